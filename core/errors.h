// Error codes, message texts and the progress protocol shared by every layer.
//
// A KervErrorCode is 0 for success, a positive library code (100 stopped,
// 101 invalid parameter, 102 out of memory, codec codes ...), or the negated
// number of an application message (-5026 shows message 5026).
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

using KervErrorCode = int32_t;

inline constexpr KervErrorCode KERV_OK = 0;
inline constexpr KervErrorCode KERV_STOPPED = 100;
inline constexpr KervErrorCode KERV_INVALID_PARAM = 101;
inline constexpr KervErrorCode KERV_NO_MEMORY = 102;
inline constexpr KervErrorCode KERV_UNKNOWN_FORMAT = 103;
inline constexpr KervErrorCode KERV_FILE_OPEN = 201;
inline constexpr KervErrorCode KERV_FILE_READ = 202;
inline constexpr KervErrorCode KERV_CORRUPT_FILE = 204;        // damaged or truncated data
inline constexpr KervErrorCode KERV_UNSUPPORTED_VARIANT = 205;  // valid file, variant not handled
inline constexpr KervErrorCode KERV_IMAGE_TOO_LARGE = 206;      // dimensions beyond the limits
inline constexpr KervErrorCode KERV_FILE_CHECK = 207;           // the file cannot be opened for reading
inline constexpr KervErrorCode KERV_WRITE_FAILED = 208;         // the output could not be written
inline constexpr KervErrorCode KERV_CODEC_FAILURE = 209;        // a codec library reported an error
inline constexpr KervErrorCode KERV_FILE_MISSING = 211;
inline constexpr KervErrorCode KERV_FORMAT_UNSUPPORTED = 213;
inline constexpr KervErrorCode KERV_FORMAT_NOT_WRITABLE = 214;  // output format not available yet
inline constexpr KervErrorCode KERV_BAD_PALETTE_FILE = 312;
inline constexpr KervErrorCode KERV_PALETTE_COUNT = 528;
inline constexpr KervErrorCode KERV_PALETTE_VERSION = 529;
inline constexpr KervErrorCode KERV_PALETTE_MISMATCH = 601;
inline constexpr KervErrorCode KERV_NO_COLOR_TABLE = 800;
inline constexpr KervErrorCode KERV_BAD_VERSION = 809;

// Application codes (negated message numbers).
inline constexpr KervErrorCode KERR_INVALID_PARAMETER = -5000;
inline constexpr KervErrorCode KERR_NOT_IMPLEMENTED = -5001;
inline constexpr KervErrorCode KERR_CANNOT_LOCK = -5002;
inline constexpr KervErrorCode KERR_CANVAS_TOO_SMALL = -5003;
inline constexpr KervErrorCode KERR_NEEDS_TC_OR_GREY = -5004;
inline constexpr KervErrorCode KERR_NOT_2_COLOR = -5020;
inline constexpr KervErrorCode KERR_CROP_TOO_BIG = -5026;
inline constexpr KervErrorCode KERR_NO_PRINTER = -5027;
inline constexpr KervErrorCode KERR_PRINTER_PROBLEM = -5028;
inline constexpr KervErrorCode KERR_NEEDS_8_OR_24 = -5031;
inline constexpr KervErrorCode KERR_RESIZE_TOO_SMALL = -5033;
inline constexpr KervErrorCode KERR_RESIZE_TOO_BIG = -5034;

// Message numbers used directly.
inline constexpr int IDS_UNKNOWN_ERROR = 5018;      // "An unknown error (%i) has occurred"
inline constexpr int IDS_SCRIPT_LINE_ERROR = 2026;  // "Script Line %i Error: "
inline constexpr int IDS_CONFIRM_ABORT = 2029;      // "Are you sure you want to abort processing?"

// The string table: the application's messages and our texts for library
// codes. Null when the table has no entry with that number.
const char* GetString(int id);
// The entry's text, or "" when there is none.
std::string LoadString(int id);
// Text for a positive library code (what the error-text component gives);
// "" when the code has no text.
std::string LibErrorText(KervErrorCode code);

// The text shown for a code: "" for 0; message -code for negative codes; the
// message of -5000 for 101; the library text otherwise; the unknown-error text
// when none exists. The caller shows it (show is accepted for the callers'
// sake and does nothing here: this layer has no user interface).
std::string ErrorCodeToText(KervErrorCode code, bool show = false);

// printf-style formatting of string-table messages, type-safe: integers of
// any width, floating values and texts, whatever the conversion says
// ("%i", "%d", "%ld", "%u", "%x", "%s", "%f", "%.2f", "%%"). A missing
// argument formats as nothing; an integer given for "%s" prints as a number.
class FormatArg {
  public:
    template <class T>
        requires std::is_integral_v<T>
    FormatArg(T v) : kind_(Int), i_(static_cast<long long>(v)) {}
    FormatArg(double v) : kind_(Float), d_(v) {}
    FormatArg(float v) : kind_(Float), d_(v) {}
    FormatArg(const char* s) : kind_(Text), s_(s ? s : "") {}
    FormatArg(std::string s) : kind_(Text), s_(std::move(s)) {}
    FormatArg(std::string_view s) : kind_(Text), s_(s) {}
    enum Kind { Int, Float, Text };
    Kind kind() const { return kind_; }
    long long asInt() const { return kind_ == Int ? i_ : kind_ == Float ? static_cast<long long>(d_) : 0; }
    double asFloat() const { return kind_ == Float ? d_ : kind_ == Int ? static_cast<double>(i_) : 0.0; }
    std::string asText() const;

  private:
    Kind kind_;
    long long i_ = 0;
    double d_ = 0;
    std::string s_;
};

std::string FormatText(std::string_view fmt, std::initializer_list<FormatArg> args);
template <class... A> std::string FormatString(int id, A&&... args) {
    return FormatText(LoadString(id), {FormatArg(std::forward<A>(args))...});
}

// ---- Progress ----

// Eight words through which an operation reports progress and learns whether
// to stop. owner is whoever shows it (a window, the console); the callbacks
// answer non-zero to ask the operation to stop.
struct StatusControlBlock {
    void* owner = nullptr;
    int32_t current = 0;
    int32_t total = 0;
    int32_t pass = 0;
    int32_t passCount = 0;
    int32_t reserved = 0;
    std::function<int(StatusControlBlock*)> progress;
    std::function<void(StatusControlBlock*, const char*)> setStatusText;
};

// The application's percentage rule, with 64-bit intermediates:
// passCount P != 0: current * (100 / P) / total + pass * 100 / P,
// otherwise current * 100 / total. A total of 0 gives 0.
int ProgressPercent(const StatusControlBlock& s);

// The operation side of the protocol:
//   ProgressReporter p(status);   // current 0, total 100, callback
//   p.begin(units);               // total = units
//   for (i ...) { if (p.step(i)) return KERV_STOPPED; ... }
//   p.end();                      // current = total, callback
class ProgressReporter {
  public:
    explicit ProgressReporter(StatusControlBlock* s);
    void begin(int32_t units);
    // Reports unit i; true when the callback asked to stop.
    bool step(int32_t i);
    void end();
    bool enabled() const { return s_ != nullptr; }

  private:
    StatusControlBlock* s_;
};
