// The run's way into the code pages: a RecordCoding that decodes records with a CodePage.
#pragma once

#include <memory>
#include <string>

#include "core/record_text.h"

namespace vesmer {

class CodePageCoding final : public RecordCoding {
 public:
  // The code page `name`; null with `message` (the user's words) when there is none.
  [[nodiscard]] static std::unique_ptr<CodePageCoding> Open(const std::string& name,
                                                            std::string& message);
  [[nodiscard]] std::unique_ptr<RecordDecoder> NewDecoder() const override;
  [[nodiscard]] std::string Name() const override { return name_; }

 private:
  explicit CodePageCoding(std::string name) : name_(std::move(name)) {}
  std::string name_;  // canonical
};

}  // namespace vesmer
