#pragma once
// One ICU transliterator by its id ("Han-Latin; Latin-ASCII; Upper"), made on
// first use: ICU compiles its rules when one is made, which takes a while.
// Throws std::runtime_error when ICU lacks it. One thread per object.

#include <unicode/translit.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace quor::tools::catalogue {

class IcuTransliterator {
 public:
  explicit IcuTransliterator(const char* id) : id_(id) {}
  icu::Transliterator& Get() {
    if (!made_) {
      UErrorCode status = U_ZERO_ERROR;
      made_.reset(icu::Transliterator::createInstance(id_, UTRANS_FORWARD, status));
      if (U_FAILURE(status) || !made_)
        throw std::runtime_error(std::string("ICU has no transliterator ") + id_ + ": " +
                                 u_errorName(status));
    }
    return *made_;
  }

 private:
  const char* id_;
  std::unique_ptr<icu::Transliterator> made_;
};

}  // namespace quor::tools::catalogue
