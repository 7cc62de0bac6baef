// Output names derived from input names.
#include "core/names.h"

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
  if (a.size() != b.size()) {
    return false;
  }
  for (size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) {
      return false;
    }
  }
  return true;
}

std::string replaceExtension(const std::string& inputPath, const std::string& extension) {
  // Only the last path component has an extension: dir.old/tape keeps its folder name.
  std::string name = inputPath;
  const size_t slash = name.rfind('/');
  const size_t componentStart = (slash == std::string::npos) ? 0 : slash + 1;
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot >= componentStart) {
    name.erase(dot);
  }
  name += extension;
  if (equalsIgnoringCase(name, inputPath)) {
    name += extension;
  }
  return name;
}

std::string deriveOutputName(const std::string& inputPath) {
  return replaceExtension(inputPath, ".wav");
}
