#include "tests/support/ListEntries.h"

namespace zr::test {

std::vector<std::string> ListEntries(const ui::FileListBox& list) {
  std::vector<std::string> names;
  for (int i = 0; i < list.ListCount(); ++i) names.push_back(list.List(i));
  return names;
}

}  // namespace zr::test
