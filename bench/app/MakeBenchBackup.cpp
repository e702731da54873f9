// Writes a suite home for the benchmark: settings, live templates, an empty
// temporary folder and one large backup in backup/ZrDataBK, laid out as an
// office's real backup is: thousands of Jet databases of care records, -lh5-
// compressed, the common database and the two templates at the very end.
// Three corpora:
//   records  2,100 members, ~340 MB of records that pack about 7:1 (default)
//   dense    2,000 members, ~350 MB of records with free text that packs
//            about 2:1, templates of 6 and 4 MB
//   scale    10,000 members, over 1.5 GB in the archive: scanned attachments
//            that do not compress (stored, as LHa stores them), 30 MB templates
//   users    2,000 members, ~350 MB that pack about 2:1 as dense does, but
//            no yearly databases: every member is one user's, 90-260 KB,
//            so no member is small enough to read past and none is large
//            enough to skip much of (an office that keeps records per user)
//
// Usage: zr-bench-backup HOME [records|dense|scale|users]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/demo/DemoBackups.h"
#include "tools/jetwriter/JetWriter.h"
#include "tools/lzhwriter/LzhWriter.h"

namespace fs = std::filesystem;
namespace jw = zr::jet::writer;
namespace lw = zr::lzh::writer;

namespace {

class Random {
 public:
  explicit Random(uint64_t variant) : state_(variant * 0x9E3779B97F4A7C15ULL + 1) {}
  uint64_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }
  std::size_t Below(std::size_t n) { return static_cast<std::size_t>(Next() % n); }
  template <typename T, std::size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(N)];
  }

 private:
  uint64_t state_;
};

const char* const kSurnames[] = {"佐藤", "鈴木", "高橋",   "田中", "伊藤", "渡辺", "山本", "中村", "小林", "加藤",
                                 "吉田", "山田", "佐々木", "山口", "松本", "井上", "木村", "林",   "斎藤", "清水"};
const char* const kGivenNames[] = {"ハル", "ヨシ子", "正夫", "トメ", "清",   "和子", "茂",   "フミ", "勝",   "キヨ",
                                   "幸子", "実",     "ミツ", "弘",   "久子", "武",   "チヨ", "進",   "節子", "一郎"};
const char* const kStaff[] = {"相談員 青木",         "介護職員 石井", "看護師 上野",        "介護職員 岡本",
                              "機能訓練指導員 川口", "管理者 北村",   "介護支援専門員 工藤"};
// Notes are put together from parts with measured values in between, so
// they compress about as well as an office's free text does.
const char* const kTimes[] = {"朝",   "午前",   "昼食前", "昼食後", "午後",   "夕方",   "夕食後", "就寝前",
                              "夜間", "送迎時", "入浴時", "来所時", "帰宅前", "訓練後", "面談時", "電話にて"};
const char* const kActs[] = {"食事は全量摂取",
                             "主食を半量摂取",
                             "水分補給を促しコップ二杯を飲まれる",
                             "入浴介助を行い皮膚の状態を確認",
                             "レクリエーションに参加",
                             "平行棒内歩行を三往復実施",
                             "トイレ誘導を行う",
                             "服薬を介助にて内服",
                             "居室の環境整備を実施",
                             "ご家族と今後の利用日を相談",
                             "更衣の一部介助を行う",
                             "口腔ケアを実施",
                             "車椅子への移乗を介助",
                             "爪切りと耳の清掃を行う",
                             "散歩に同行し中庭を一周",
                             "書道の作品づくりに取り組まれる",
                             "体操に最後まで参加",
                             "昼寝のため静養室へ案内",
                             "担当者会議で目標を見直し",
                             "主治医へ経過を報告"};
const char* const kObservations[] = {"笑顔が見られた",
                                     "ふらつきがあり見守りを継続する",
                                     "特記事項なし",
                                     "疲労の訴えあり早めに休まれる",
                                     "左下腿に発赤なし",
                                     "食欲は普段どおり",
                                     "会話が弾み表情は明るい",
                                     "咳込みが数回あったため経過観察",
                                     "右膝の痛みを訴えられ湿布を貼付",
                                     "眠気が強く反応がやや鈍い",
                                     "自力で立ち上がりができた",
                                     "段差につまずきかけたが転倒なし",
                                     "ご本人より次回も参加したいとの希望",
                                     "皮膚の乾燥がみられ保湿剤を塗布",
                                     "排便あり性状は普通",
                                     "むせ込みなし",
                                     "落ち着いて過ごされる",
                                     "帰宅願望が強く職員が付き添う"};

// Free text typed by hand, in no predictable order: what keeps a records
// database from packing much better than 2:1.
std::size_t gFreeText = 0;

void AppendFreeText(Random& r, std::string& note) {
  for (std::size_t i = 0; i < gFreeText; ++i) {
    const char32_t cp = 0x4E00 + static_cast<char32_t>(r.Below(0x0800));
    note += static_cast<char>(0xE0 | (cp >> 12));
    note += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    note += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string Note(Random& r, std::size_t sentences) {
  std::string note;
  // A text column holds at most 255 characters.
  if (gFreeText > 0) sentences = 1;
  char vitals[96];
  for (std::size_t i = 0; i < sentences; ++i) {
    note += std::string(r.Pick(kTimes)) + "、" + r.Pick(kActs) + "。" + r.Pick(kObservations) + "。";
    if (r.Below(2) == 0) {
      std::snprintf(vitals, sizeof vitals, "血圧%zu/%zu、脈拍%zu、体温%zu.%zu℃。", 100 + r.Below(60), 55 + r.Below(40),
                    55 + r.Below(45), 35 + r.Below(2), r.Below(10));
      note += vitals;
    }
  }
  AppendFreeText(r, note);
  return note;
}

std::string Date(Random& r) {
  char text[16];
  std::snprintf(text, sizeof text, "20%02zu/%02zu/%02zu", 19 + r.Below(6), 1 + r.Below(12), 1 + r.Below(28));
  return text;
}

// Builds with a trial row count first, then with the count that reaches
// about `bytes`.
template <typename Build>
std::string OfSize(std::size_t bytes, Build build) {
  const std::size_t trial = std::max<std::size_t>(1, bytes / 400);
  const std::string first = build(trial);
  const double perRow = static_cast<double>(first.size()) / static_cast<double>(trial);
  return build(std::max<std::size_t>(1, static_cast<std::size_t>(static_cast<double>(bytes) / perRow)));
}

// One care-record database: users and their daily records.
std::string RecordDatabase(uint64_t variant, std::size_t bytes) {
  return OfSize(bytes, [variant](std::size_t rows) {
    Random r(variant);
    jw::Table users{"RIYOUSYA", {"CODE", "NAME", "BIRTH", "ADDRESS"}, {}};
    jw::Table records{"KIROKU", {"CODE", "DATE", "STAFF", "NOTE"}, {}};
    for (int i = 0; i < 20; ++i) {
      char code[32];
      std::snprintf(code, sizeof code, "R%06zu", static_cast<std::size_t>(variant % 10000) * 20 + i);
      users.rows.push_back({code, std::string(r.Pick(kSurnames)) + "　" + r.Pick(kGivenNames), Date(r),
                            "青葉県青葉市中央" + std::to_string(1 + r.Below(9)) + "丁目" +
                                std::to_string(1 + r.Below(30)) + "番" + std::to_string(1 + r.Below(20)) + "号"});
    }
    for (std::size_t i = 0; i < rows; ++i) {
      records.rows.push_back(
          {*users.rows[r.Below(users.rows.size())][0], Date(r), r.Pick(kStaff), Note(r, 1 + r.Below(3))});
    }
    jw::Database database;
    database.tables = {users, records};
    return jw::Build(database);
  });
}

// A template database: document texts for the three kinds of plan.
std::string TemplateDatabase(const std::string& table, uint64_t variant, std::size_t bytes) {
  return OfSize(bytes, [&table, variant](std::size_t rows) {
    Random r(variant);
    jw::Table templates{table, {"CODE", "KIND", "TITLE", "BODY"}, {}};
    const char* kinds[] = {"アセスメント", "サービス計画書", "通所"};
    for (std::size_t i = 0; i < rows; ++i) {
      char code[32];
      std::snprintf(code, sizeof code, "%06zu", i + 1);
      templates.rows.push_back({code, r.Pick(kinds), std::string("雛形 ") + code, Note(r, 3)});
    }
    jw::Database database;
    database.tables = {templates};
    return jw::Build(database);
  });
}

// The common database: the control items and the office's own tables.
std::string CommonDatabase(std::size_t bytes) {
  return OfSize(bytes, [](std::size_t rows) {
    jw::Database database;
    database.password = zr::demo::kSuitePassword;
    database.tables.push_back(jw::ControlTable({{"ZrVer", "9.2.0"}, {"ZrName", "あおば！ナビ"}}));
    database.tables.push_back(jw::Table{"XC_JIGYOUSYO", {"CODE", "NAME", "NOTE"}, {}});
    Random r(7);
    for (std::size_t i = 0; i < rows; ++i) {
      database.tables.back().rows.push_back({std::to_string(1000 + i), "あおば介護センター", Note(r, 2)});
    }
    return jw::Build(database);
  });
}

struct Totals {
  std::size_t members = 0;
  uint64_t original = 0;
  uint64_t packed = 0;
};

class ArchiveOut {
 public:
  explicit ArchiveOut(const fs::path& path) : out_(path, std::ios::binary | std::ios::trunc), path_(path) {
    if (!out_) throw std::runtime_error("cannot create " + path.string());
  }

  void Add(const std::string& name, const std::string& data, int64_t mtime, lw::Method method = lw::Method::Lh5) {
    lw::Member member = lw::MakeMember(name, data, 2, method);
    member.codePage = 932;
    member.mtime = mtime;
    const std::string encoded = lw::EncodeMember(member);
    out_.write(encoded.data(), static_cast<std::streamsize>(encoded.size()));
    if (!out_) throw std::runtime_error("cannot write " + path_.string());
    totals_.members++;
    totals_.original += data.size();
    totals_.packed += encoded.size();
  }

  const Totals& Finish() {
    out_.put('\0');
    out_.close();
    if (!out_) throw std::runtime_error("cannot write " + path_.string());
    return totals_;
  }

 private:
  std::ofstream out_;
  fs::path path_;
  Totals totals_;
};

struct Corpus {
  std::size_t members;
  uint64_t recordBytes;  // records databases, all members but the last three
  std::size_t templateBytes[2];
  std::size_t freeText;                      // random characters per sentence of a note
  uint64_t attachmentBytes;                  // stored members that do not compress
  std::size_t yearly = 16;                   // yearly record databases, which take what users leave of recordBytes
  std::size_t shapeBytes[2] = {8000, 1000};  // users' databases: the smallest, and the step between sizes
};

Corpus CorpusNamed(const std::string& name) {
  if (name == "records") return {2100, 320'000'000, {4'000'000, 3'000'000}, 0, 0};
  if (name == "dense") return {2000, 340'000'000, {6'300'000, 4'200'000}, 150, 0};
  if (name == "scale") return {10000, 60'000'000, {30'000'000, 30'000'000}, 0, 1'550'000'000};
  if (name == "users") return {2000, 0, {6'300'000, 4'200'000}, 100, 0, 0, {80'000, 2'500}};
  throw std::runtime_error("unknown corpus " + name + " (records, dense, scale, users)");
}

// Bytes that do not compress, as a scanned page or a PDF: stored as they are.
std::string Attachment(uint64_t variant, std::size_t bytes) {
  Random r(variant);
  std::string data(bytes, '\0');
  for (std::size_t i = 0; i + 8 <= bytes; i += 8) {
    const uint64_t v = r.Next();
    std::memcpy(&data[i], &v, 8);
  }
  return data;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s HOME [records|dense|scale|users]\n", argv[0]);
    return 2;
  }
  try {
    const fs::path home = fs::absolute(argv[1]);
    const Corpus corpus = CorpusNamed(argc > 2 ? argv[2] : "records");
    gFreeText = corpus.freeText;
    const auto started = std::chrono::steady_clock::now();

    zr::demo::WriteSuiteSettings(home);
    zr::demo::WriteLiveTemplates(home / "data");

    fs::create_directories(home / "backup" / "ZrDataBK");
    const fs::path archivePath = home / "backup" / "ZrDataBK" / "ZrBackup_20250301.lzh";
    ArchiveOut archive(archivePath);
    int64_t mtime = 1740787200;  // 2025-03-01

    // The wanted members: a common database and two templates.
    const std::string common = CommonDatabase(1500 * 1000);
    const std::string bunsyo = TemplateDatabase("BUNSYO", 11, corpus.templateBytes[0]);
    const std::string tubun = TemplateDatabase("TUBUN", 12, corpus.templateBytes[1]);

    // A few yearly record databases carry most of the bytes; the office's
    // per-user files make up the count. Users share a few shapes.
    const std::size_t yearly = corpus.yearly;
    const std::size_t attachments = corpus.attachmentBytes > 0 ? corpus.members / 2 : 0;
    const std::size_t users = corpus.members - yearly - attachments - 3;
    const uint64_t userBytes = 40 * 1000;
    const uint64_t rest = corpus.recordBytes > users * userBytes ? corpus.recordBytes - users * userBytes : 0;
    for (std::size_t i = 0; i < yearly; ++i) {
      archive.Add("Data\\Kiroku\\ZrKiroku" + std::to_string(2010 + i) + ".wf6",
                  RecordDatabase(100 + i, static_cast<std::size_t>(rest / yearly + 1)), mtime - 86400 * 30);
    }
    std::vector<std::string> shapes;
    for (std::size_t i = 0; i < 64; ++i) {
      shapes.push_back(RecordDatabase(1000 + i, corpus.shapeBytes[0] + corpus.shapeBytes[1] * i));
    }
    for (std::size_t i = 0; i < users; ++i) {
      char name[64];
      std::snprintf(name, sizeof name, "%06zu.wf6", i + 1);
      archive.Add(std::string("Data\\利用者\\") + name, shapes[i % shapes.size()], mtime - 3600 * (i % 500));
    }
    for (std::size_t i = 0; i < attachments; ++i) {
      char name[64];
      std::snprintf(name, sizeof name, "%06zu.pdf", i + 1);
      archive.Add(std::string("Data\\添付\\") + name,
                  Attachment(5000 + i, static_cast<std::size_t>(corpus.attachmentBytes / attachments)),
                  mtime - 600 * (i % 700), lw::Method::Lh0);
    }
    archive.Add("Data\\ZrXXComn.wf6", common, mtime);
    archive.Add("Work\\ZrBunsyo.wf6", bunsyo, mtime);
    archive.Add("Work\\ZrTuBun.wf6", tubun, mtime);
    const Totals& totals = archive.Finish();

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%s: %zu members, %.1f MB uncompressed, %.1f MB in the archive (%.1f s)\n", archivePath.c_str(),
                totals.members, totals.original / 1e6, totals.packed / 1e6, seconds);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zr-bench-backup: %s\n", e.what());
    return 1;
  }
}
