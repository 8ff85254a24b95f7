#include "platform/html/ScriptDispatch.h"

#include <cctype>
#include <charconv>

namespace platform {

namespace {

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

std::string ScriptValue::ToText() const {
  if (const auto* text = std::get_if<std::string>(&value_)) return *text;
  if (const auto* number = std::get_if<int>(&value_)) return std::to_string(*number);
  return std::string();
}

bool ScriptValue::ToInt(int* number) const {
  int converted = 0;
  if (const auto* value = std::get_if<int>(&value_)) {
    converted = *value;
  } else if (const auto* text = std::get_if<std::string>(&value_)) {
    std::size_t begin = 0;
    std::size_t end = text->size();
    while (begin < end && IsBlank((*text)[begin])) ++begin;
    while (end > begin && IsBlank((*text)[end - 1])) --end;
    if (begin < end && (*text)[begin] == '+') ++begin;
    const char* first = text->data() + begin;
    const char* last = text->data() + end;
    if (first == last) return false;
    auto [ptr, error] = std::from_chars(first, last, converted);
    if (error != std::errc() || ptr != last) return false;
  }
  if (number) *number = converted;
  return true;
}

void ScriptDispatch::AddMethod(const std::string& name, std::vector<ScriptType> parameters, Method method) {
  methods_.push_back(Entry{name, std::move(parameters), std::move(method)});
}

const ScriptDispatch::Entry* ScriptDispatch::Find(const std::string& name) const {
  for (const Entry& entry : methods_) {
    if (SameName(entry.name, name)) return &entry;
  }
  return nullptr;
}

HRESULT ScriptDispatch::GetIdOfName(const std::string& name, int* id) const {
  for (std::size_t i = 0; i < methods_.size(); ++i) {
    if (SameName(methods_[i].name, name)) {
      if (id) *id = static_cast<int>(i) + 1;
      return S_OK;
    }
  }
  return DISP_E_UNKNOWNNAME;
}

HRESULT ScriptDispatch::Invoke(const std::string& name, const ScriptArgs& args, ScriptValue* result) const {
  const Entry* entry = Find(name);
  if (!entry) return DISP_E_UNKNOWNNAME;
  if (args.size() != entry->parameters.size()) return DISP_E_BADPARAMCOUNT;
  ScriptArgs converted;
  converted.reserve(args.size());
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (entry->parameters[i] == ScriptType::Text) {
      converted.emplace_back(args[i].ToText());
    } else {
      int number = 0;
      if (!args[i].ToInt(&number)) return DISP_E_TYPEMISMATCH;
      converted.emplace_back(number);
    }
  }
  ScriptValue value = entry->method ? entry->method(converted) : ScriptValue();
  if (result) *result = std::move(value);
  return S_OK;
}

}  // namespace platform
