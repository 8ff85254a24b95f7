// Long texts sent into the page packed (raw deflate in base64) and unpacked
// by the page before the command that takes them runs.
#include "platform/html/ChromiumBrowser.h"

#include <string_view>
#include <vector>

#include <zlib.h>

#include "platform/kernel/Base64.h"

namespace platform::chromium {

namespace {

// Chromium takes in a long text slowly: about 0.15 us a byte between the pipe
// and the page script (2 MB of HTML took 300 ms on a quiet machine), while
// HTML packs to a twentieth. So a long string argument of
// Runtime.callFunctionOn crosses packed (raw deflate, base64): one call
// unpacks the texts into the page and the command then takes them from there.
// From about 8 KB the extra call costs less than the text does: a Lab view's
// 40 to 55 KB tables went in 30 to 45 ms less.
constexpr std::size_t kPackAbove = 8 * 1024;

// Stands for text i of the unpacked ones in the command's arguments.
constexpr const char* kTextMark = "\x01zorvaPackedText";

constexpr const char* kUnpackFunction = R"JS(async function (packed) {
  const texts = [];
  for (const p of packed) {
    const bytes = Uint8Array.fromBase64 ? Uint8Array.fromBase64(p) : Uint8Array.from(atob(p), (c) => c.charCodeAt(0));
    // Fed and drained directly: through a Blob's stream it takes several times as long.
    const inflate = new DecompressionStream('deflate-raw');
    const writer = inflate.writable.getWriter();
    writer.write(bytes);
    writer.close();
    const reader = inflate.readable.getReader();
    const decoder = new TextDecoder();
    const parts = [];
    for (;;) {
      const { done, value } = await reader.read();
      if (done) break;
      parts.push(decoder.decode(value, { stream: true }));
    }
    parts.push(decoder.decode());
    texts.push(parts.join(''));
  }
  let store = window.__zorvaPackedTexts;
  if (!store) {
    store = { last: 0, texts: new Map() };
    Object.defineProperty(window, '__zorvaPackedTexts', { value: store });
  }
  store.texts.set(++store.last, texts);
  return store.last;
})JS";

// Wraps the command's function: its first argument names the unpacked texts,
// which replace their marks in the other arguments.
constexpr const char* kUnpackedCallHead = R"JS(function (zorvaPacked, ...args) {
  const store = window.__zorvaPackedTexts;
  const texts = store.texts.get(zorvaPacked) || [];
  store.texts.delete(zorvaPacked);
  const put = (v) => {
    if (Array.isArray(v)) return v.map(put);
    if (v === null || typeof v !== 'object') return v;
    const keys = Object.keys(v);
    if (keys.length === 1 && keys[0] === '\u0001zorvaPackedText') return texts[v[keys[0]]];
    const out = {};
    for (const k of keys) out[k] = put(v[k]);
    return out;
  };
  return ()JS";
constexpr const char* kUnpackedCallTail = ").apply(this, args.map(put));\n}";

// Raw deflate (no header) in base64; empty when zlib fails.
std::string Pack(const std::string& text) {
  if (text.size() > (1u << 30)) return {};
  z_stream stream{};
  if (::deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
  std::vector<unsigned char> out(::deflateBound(&stream, static_cast<uLong>(text.size())));
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  const int status = ::deflate(&stream, Z_FINISH);
  const std::size_t size = stream.total_out;
  ::deflateEnd(&stream);
  return status == Z_STREAM_END ? Base64Encode(std::string_view(reinterpret_cast<const char*>(out.data()), size))
                                : std::string();
}

// Replaces the long strings in `value` with marks, moving them to `texts`.
void TakeLongTexts(Json& value, std::vector<std::string>& texts) {
  if (value.is_string()) {
    if (value.get_ref<const std::string&>().size() < kPackAbove) return;
    texts.push_back(std::move(value.get_ref<std::string&>()));
    value = Json{{kTextMark, texts.size() - 1}};
  } else if (value.is_structured()) {
    for (Json& item : value) TakeLongTexts(item, texts);
  }
}

bool HasLongText(const Json& value) {
  if (value.is_string()) return value.get_ref<const std::string&>().size() >= kPackAbove;
  if (value.is_structured()) {
    for (const Json& item : value) {
      if (HasLongText(item)) return true;
    }
  }
  return false;
}

}  // namespace

Reply Browser::Call(const std::string& method, const Json& params, const std::string& session, Millis timeout) {
  if (method == "Runtime.callFunctionOn" && params.contains("functionDeclaration") && params.contains("arguments") &&
      HasLongText(params["arguments"])) {
    // Unpacking awaits the page's event loop, which does not run while the
    // page stands in the debugger for an answer: then the text goes as it is.
    bool paused;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      paused = paused_.count(session) != 0;
    }
    if (!paused) return CallPacked(params, session, timeout);
  }
  return CallPlain(method, params, session, timeout);
}

Reply Browser::CallPacked(const Json& params, const std::string& session, Millis timeout) {
  Json command = params;
  std::vector<std::string> texts;
  TakeLongTexts(command["arguments"], texts);
  Json packed = Json::array();
  for (const std::string& text : texts) {
    std::string one = Pack(text);
    if (one.empty()) return CallPlain("Runtime.callFunctionOn", params, session, timeout);
    packed.push_back(std::move(one));
  }
  Json unpack{{"functionDeclaration", kUnpackFunction},
              {"arguments", Json::array({{{"value", std::move(packed)}}})},
              {"awaitPromise", true},
              {"returnByValue", true}};
  for (const char* target : {"executionContextId", "objectId"}) {
    if (command.contains(target)) unpack[target] = command[target];
  }
  Reply unpacked = CallPlain("Runtime.callFunctionOn", unpack, session, timeout);
  if (!unpacked.ok) return unpacked;
  const Json id = unpacked.result.contains("result") ? unpacked.result["result"].value("value", Json()) : Json();
  // A page that cannot unpack (an older engine) takes the texts as they are.
  if (!id.is_number_integer()) return CallPlain("Runtime.callFunctionOn", params, session, timeout);
  command["functionDeclaration"] =
      kUnpackedCallHead + command["functionDeclaration"].get<std::string>() + kUnpackedCallTail;
  Json& arguments = command["arguments"];
  arguments.insert(arguments.begin(), Json{{"value", id}});
  return CallPlain("Runtime.callFunctionOn", command, session, timeout);
}

}  // namespace platform::chromium
