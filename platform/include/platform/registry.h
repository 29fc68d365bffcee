// A small read-only stand-in for the Windows registry: keys under a root hold named values of
// type string (REG_SZ) or 32-bit number (REG_DWORD). This platform has no registry; the one
// value the program looks up is supplied from what is installed (see SystemRegistry).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

namespace vesmer {

enum class RegistryRoot { kLocalMachine, kCurrentUser };

inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kKeyAllAccess = 0x2003F;
inline constexpr std::size_t kRegistryBufferSize = 1024;

class Registry {
 public:
  using Key = std::uint32_t;
  virtual ~Registry() = default;
  // Opens `subkey` (backslash-separated, letter case ignored) under `root`.
  [[nodiscard]] virtual bool OpenKey(RegistryRoot root, const std::string& subkey,
                                     std::uint32_t access, Key& key) = 0;
  // The value's type and its data bytes (a string with its terminating NUL, a number as four
  // little-endian bytes); fails when the value is missing or larger than `buffer_size`.
  [[nodiscard]] virtual bool QueryValue(Key key, const std::string& name, std::uint32_t& type,
                                        std::string& data, std::size_t buffer_size) = 0;
  virtual void CloseKey(Key key) = 0;
};

// A registry held in memory. Strings are given in UTF-8 and kept in code page 932, as the
// narrow registry functions hand them out.
class MemoryRegistry : public Registry {
 public:
  void SetString(RegistryRoot root, const std::string& subkey, const std::string& name,
                 const std::string& utf8_value);
  void SetDword(RegistryRoot root, const std::string& subkey, const std::string& name,
                std::uint32_t value);
  [[nodiscard]] int open_keys() const { return static_cast<int>(open_.size()); }

  bool OpenKey(RegistryRoot root, const std::string& subkey, std::uint32_t access,
               Key& key) override;
  bool QueryValue(Key key, const std::string& name, std::uint32_t& type, std::string& data,
                  std::size_t buffer_size) override;
  void CloseKey(Key key) override;

 private:
  using Values = std::map<std::string, std::pair<std::uint32_t, std::string>>;
  std::map<std::pair<RegistryRoot, std::string>, Values> keys_;
  std::map<Key, const Values*> open_;
  Key next_ = 1;
};

// This machine's registry: HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Shared Tools\MSINFO holds
// PATH, the full path of the first system-information program found on PATH among hardinfo2,
// hardinfo and kinfocenter; no value where none is installed.
class SystemRegistry : public MemoryRegistry {
 public:
  SystemRegistry();
};

}  // namespace vesmer
