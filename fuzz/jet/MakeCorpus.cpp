// Writes a few writer-made common databases into the folder given.
#include <fstream>
#include <iostream>
#include <string>

#include "tools/jetwriter/JetWriter.h"

using namespace zr::jet::writer;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: zr_fuzz_jet_corpus FOLDER\n";
    return 2;
  }
  const std::string dir = argv[1];
  const std::string pwd = "R$KQTM3VXEJW8FNUPC";
  auto write = [&](const std::string& name, Database db) { Write(dir + "/" + name, db); };

  Database plain;
  plain.password = pwd;
  plain.tables.push_back(ControlTable({{"ZrVer", "9.2.0"}}));
  write("writer-version", plain);

  Database mixed;
  mixed.password = pwd;
  mixed.tables.push_back(
      ControlTable({{"Other", std::nullopt}, {"zrver", ""}, {"ZrVer", "日本語"}, {"ZrVer", "9.0.0"}}));
  write("writer-mixed", mixed);

  Database none;
  none.tables.push_back(ControlTable({}));
  none.tables.push_back({"EXTRA", {"A", "B", "C"}, {{"1", std::nullopt, "x"}}});
  write("writer-two-tables", none);

  // Damaged copies, one per kind the engine must refuse.
  auto raw = [&](const std::string& name, const std::string& bytes) {
    std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
  };
  const std::string good = Build(plain);
  std::string zeroTable = good;
  zeroTable.replace(6 * 4096, 4096, std::string(4096, '\0'));
  raw("damaged-zero-data-page", zeroTable);
  raw("damaged-truncated", good.substr(0, good.size() - 1000));
  std::string version = good;
  version[0x14] = 2;
  raw("damaged-version-byte", version);
  return 0;
}
