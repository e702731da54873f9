#include "suite/Templates.h"

namespace zr::suite {

std::vector<std::string> TemplatePathParts(const std::string& member) {
  std::vector<std::string> parts(1);
  for (char c : member) {
    if (c == '\\') {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

std::vector<std::vector<std::string>> TemplateTargets() {
  std::vector<std::vector<std::string>> targets;
  for (const std::string& member : kTemplateMembers) targets.push_back(TemplatePathParts(member));
  return targets;
}

}  // namespace zr::suite
