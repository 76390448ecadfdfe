// Engine errors: the per-thread last error, the texts of the engine's codes,
// and the exception that carries a failure from deep inside to the C entry
// point that reports it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "qel32.h"

namespace qel32 {

class EngineError : public std::runtime_error {
public:
    EngineError(KIVRESULT code, std::string text)
        : std::runtime_error(std::move(text)), code_(code) {}
    explicit EngineError(KIVRESULT code);
    KIVRESULT code() const { return code_; }

private:
    KIVRESULT code_;
};

[[noreturn]] void Throw(KIVRESULT code, std::string text);
[[noreturn]] void Throw(KIVRESULT code);

// The engine's own text for a code ("" for codes it does not know).
const char* CodeText(KIVRESULT code);

// Records code and text as the calling thread's last error; returns code.
KIVRESULT SetLastError(KIVRESULT code, std::string_view text);
void ClearLastError();
uint32_t LastErrorCode();
const std::string& LastErrorText();

// Copies a text out under the engine's buffer rule (see qel32.h). Returns
// KIV_OK or KIV_ERR_BUFFER_TOO_SMALL; never touches the last error.
KIVRESULT CopyOut(std::string_view text, char* buf, uint32_t* len);
// The same for bytes: no terminating NUL is ever added.
KIVRESULT CopyOutBytes(std::string_view bytes, void* buf, uint32_t* len);

}  // namespace qel32
