#include "platform/registry.h"

#include <cctype>

#include "platform/cp932.h"
#include "platform/process.h"

namespace vesmer {
namespace {

std::string Fold(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

void MemoryRegistry::SetString(RegistryRoot root, const std::string& subkey,
                               const std::string& name, const std::string& utf8_value) {
  std::string data = cp932::FromUtf8(utf8_value);
  data.push_back('\0');
  keys_[{root, Fold(subkey)}][Fold(name)] = {kRegSz, data};
}

void MemoryRegistry::SetDword(RegistryRoot root, const std::string& subkey, const std::string& name,
                              std::uint32_t value) {
  std::string data;
  for (int i = 0; i < 4; ++i) data.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  keys_[{root, Fold(subkey)}][Fold(name)] = {kRegDword, data};
}

bool MemoryRegistry::OpenKey(RegistryRoot root, const std::string& subkey, std::uint32_t /*access*/,
                             Key& key) {
  const auto it = keys_.find({root, Fold(subkey)});
  if (it == keys_.end()) return false;
  key = next_++;
  open_[key] = &it->second;
  return true;
}

bool MemoryRegistry::QueryValue(Key key, const std::string& name, std::uint32_t& type,
                                std::string& data, std::size_t buffer_size) {
  const auto open = open_.find(key);
  if (open == open_.end()) return false;
  const auto it = open->second->find(Fold(name));
  if (it == open->second->end() || it->second.second.size() > buffer_size) return false;
  type = it->second.first;
  data = it->second.second;
  return true;
}

void MemoryRegistry::CloseKey(Key key) { open_.erase(key); }

SystemRegistry::SystemRegistry() {
  for (const char* program : {"hardinfo2", "hardinfo", "kinfocenter"}) {
    const std::string path = FindOnPath(program);
    if (!path.empty()) {
      SetString(RegistryRoot::kLocalMachine, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH",
                path);
      break;
    }
  }
}

}  // namespace vesmer
