#include "data/Params.h"

#include <algorithm>

#include "platform/AsciiCase.h"
#include "platform/Codepage.h"
#include "remote/SafeArray.h"

namespace quor::data {
namespace {

bool IsNameByte(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

Param* FindParam(ParamList& params, std::string_view name) {
  for (Param& p : params)
    if (platform::EqualsNoCase(p.name, name)) return &p;
  return nullptr;
}

}  // namespace

std::vector<std::string> ScanParamNames(std::string_view text) {
  std::vector<std::string> names;
  auto add = [&](std::string name) {
    if (name.empty()) return;
    for (const std::string& n : names)
      if (platform::EqualsNoCase(n, name)) return;
    names.push_back(std::move(name));
  };
  char quote = 0;  // the quote character of the literal we are in, or 0
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (const std::size_t length = platform::GbkCharLength(text, i); length > 1) {
      i += length;  // a Chinese character, all its bytes at once
      continue;
    }
    if (quote != 0) {
      if (c == static_cast<unsigned char>(quote)) quote = 0;
      ++i;
      continue;
    }
    if (c == '\'' || c == '"') {
      quote = static_cast<char>(c);
      ++i;
      continue;
    }
    if (c != ':') {
      ++i;
      continue;
    }
    if (i + 1 < n && text[i + 1] == ':') {  // "::" is a literal colon
      i += 2;
      continue;
    }
    std::size_t j = i + 1;
    if (j < n && text[j] == '"') {  // :"quoted name"
      const std::size_t end = text.find('"', j + 1);
      if (end == std::string_view::npos) break;
      add(std::string(text.substr(j + 1, end - j - 1)));
      i = end + 1;
      continue;
    }
    while (j < n) {
      const auto b = static_cast<unsigned char>(text[j]);
      if (const std::size_t length = platform::GbkCharLength(text, j); length > 1) {
        j += length;
      } else if (IsNameByte(b)) {
        ++j;
      } else {
        break;
      }
    }
    add(std::string(text.substr(i + 1, j - i - 1)));
    i = j;
  }
  return names;
}

ParamList RebuildParams(std::string_view commandTextGbk, const ParamList& old) {
  ParamList params;
  for (std::string& name : ScanParamNames(commandTextGbk)) {
    Param p;
    p.name = std::move(name);
    for (const Param& o : old)
      if (platform::EqualsNoCase(o.name, p.name)) {
        p.value = o.value;
        p.dataType = o.dataType;
        p.paramType = o.paramType;
        break;
      }
    params.push_back(std::move(p));
  }
  return params;
}

remote::Variant PackParams(const ParamList& params) {
  using remote::Variant;
  if (params.empty()) return Variant::Null();
  auto list = remote::SafeArray::Create(remote::VT_VARIANT,
                                        {{0, static_cast<std::int32_t>(params.size()) - 1}});
  for (std::size_t i = 0; i < params.size(); ++i) {
    auto item = remote::SafeArray::Create(remote::VT_VARIANT, {{0, 3}});
    item->PutAt(0, Variant::Str(platform::GbkToUtf16(params[i].name)));
    item->PutAt(1, params[i].value);
    item->PutAt(2, Variant::I4(params[i].dataType));
    item->PutAt(3, Variant::I4(static_cast<std::int32_t>(params[i].paramType)));
    list->PutAt(i, Variant::Array(std::move(item)));
  }
  return Variant::Array(std::move(list));
}

void UnpackParams(const remote::Variant& packed, ParamList& params) {
  using remote::VT_BSTR;
  using remote::VT_I4;
  using remote::VT_VARIANT;
  if (params.empty() || !packed.IsArray() || packed.BaseType() != VT_VARIANT) return;
  const remote::SafeArray& list = packed.AsArray();
  if (list.DimCount() != 1) return;
  for (std::size_t i = 0; i < list.ElementCount(); ++i) {
    const remote::Variant& element = list.ItemAt(i);
    if (!element.IsArray() || element.BaseType() != VT_VARIANT) continue;
    const remote::SafeArray& item = element.AsArray();
    if (item.DimCount() != 1 || item.ElementCount() < 2) continue;
    const remote::Variant& name = item.ItemAt(0);
    if (name.Type() != VT_BSTR) continue;
    Param* p = FindParam(params, platform::Utf16ToGbk(name.AsString()));
    if (p == nullptr) continue;
    p->value = item.ItemAt(1);
    if (item.ElementCount() > 2 && item.ItemAt(2).Type() == VT_I4)
      p->dataType = item.ItemAt(2).AsI4();
    if (item.ElementCount() > 3 && item.ItemAt(3).Type() == VT_I4) {
      const std::int32_t kind = item.ItemAt(3).AsI4();
      if (kind >= 0 && kind <= 4) p->paramType = static_cast<ParamType>(kind);
    }
  }
}

}  // namespace quor::data
