// What page script and the program hand each other: values that are a text, a
// 32-bit integer or nothing (the automation VARIANTs of BSTR and long), and
// the automation object a window gives its page as window.external, whose
// methods script calls by name (a dispatch map).
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/kernel/WinTypes.h"

constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003u);
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006u);
constexpr HRESULT DISP_E_EXCEPTION = static_cast<HRESULT>(0x80020009u);
constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000Eu);

namespace platform {

class ScriptValue {
 public:
  ScriptValue() = default;
  ScriptValue(std::string text) : value_(std::move(text)) {}
  ScriptValue(const char* text) : value_(std::string(text ? text : "")) {}
  ScriptValue(int number) : value_(number) {}

  bool IsEmpty() const { return std::holds_alternative<std::monostate>(value_); }
  bool IsText() const { return std::holds_alternative<std::string>(value_); }
  bool IsInt() const { return std::holds_alternative<int>(value_); }

  // Text as it is, an integer in decimal, nothing as "".
  std::string ToText() const;
  // An integer as it is; a text that holds a decimal integer (blanks around it
  // allowed) as that number; nothing as 0. False for any other text.
  bool ToInt(int* number) const;
  // The integer, or 0 when the value holds none (after a method's arguments
  // were converted to its parameter types, an integer parameter always has one).
  int AsInt() const { return IsInt() ? std::get<int>(value_) : 0; }

  bool operator==(const ScriptValue& other) const = default;

 private:
  std::variant<std::monostate, std::string, int> value_;
};

using ScriptArgs = std::vector<ScriptValue>;

enum class ScriptType { Text, Int };

// An automation object: named methods with typed parameters. Arguments are
// converted to the parameter types as automation converts them (a number to
// its decimal text, a decimal text to its number, nothing to "" or 0).
class ScriptDispatch {
 public:
  using Method = std::function<ScriptValue(const ScriptArgs& args)>;

  virtual ~ScriptDispatch() = default;

  // Ids follow the order methods are added, from 1.
  void AddMethod(const std::string& name, std::vector<ScriptType> parameters, Method method);

  // Names are matched ignoring ASCII letter case. DISP_E_UNKNOWNNAME when there
  // is no such method.
  HRESULT GetIdOfName(const std::string& name, int* id) const;
  // DISP_E_UNKNOWNNAME, DISP_E_BADPARAMCOUNT (another number of arguments
  // than parameters) or DISP_E_TYPEMISMATCH (an argument that does not
  // convert); otherwise the method runs and S_OK. `result` may be null.
  HRESULT Invoke(const std::string& name, const ScriptArgs& args, ScriptValue* result) const;

 private:
  struct Entry {
    std::string name;
    std::vector<ScriptType> parameters;
    Method method;
  };
  const Entry* Find(const std::string& name) const;

  std::vector<Entry> methods_;
};

}  // namespace platform
