// The command catalogue: the 61 command kinds, their parameter slots, and the
// rules about where and how often a kind may occur in a script.
//
// Every command carries the same fixed slots: ten integers P0..P9, two floats
// F0 F1, two strings S0 S1 and two colours C0 C1 (COLORREF: red in the low
// byte). A slot that was never set holds PARAM_UNSET (integers and floats) or
// is empty (strings); ParamOr and friends substitute a default for it.
//
// The slot table (CommandInfo / SlotInfo below) is the one place that says
// what each kind's slots mean, their default when unset, the range the
// parameter dialogs enforce and the dialog's label. The description builder,
// the dispatcher's depth checks, the parameter dialogs and the docs all read
// it; nothing else repeats a range or a default.
#pragma once

#include <cstdint>
#include <span>
#include <string>

class CScript;

// ---- Command identifiers ----

enum CommandID : int32_t {
    CMD_RESIZE = 501,
    CMD_BRIGHTNESS_CONTRAST = 502,
    CMD_RED_GREEN_BLUE = 503,
    CMD_HUE_SATURATION_LUM = 504,
    CMD_HIGHLIGHT_MIDTONE_SHADOW = 505,
    CMD_FLIP = 506,
    CMD_MIRROR = 507,
    CMD_ROTATE = 508,
    CMD_ADD_BORDERS = 509,
    CMD_ENLARGE_CANVAS = 510,
    CMD_GAMMA = 511,
    CMD_GREYSCALE = 512,
    CMD_EQUALIZE_HISTOGRAM = 513,
    CMD_STRETCH_HISTOGRAM = 514,
    CMD_NEGATIVE = 515,
    CMD_POSTERIZE = 516,
    CMD_SOLARIZE = 517,
    CMD_APPLY_PALETTE = 518,
    CMD_OPTIMIZED_PALETTE = 519,
    CMD_TO_2_COLORS = 520,
    CMD_TO_16_COLORS = 521,
    CMD_TO_256_COLORS = 522,
    CMD_TO_TRUE_COLOR = 523,
    CMD_COLORIZE = 524,
    CMD_HORIZONTAL_PERSPECTIVE = 525,
    CMD_VERTICAL_PERSPECTIVE = 526,
    CMD_HORIZONTAL_CYLINDER = 527,
    CMD_VERTICAL_CYLINDER = 528,
    CMD_PINCH = 529,
    CMD_PUNCH = 530,
    CMD_EDGE_ENHANCE = 531,
    CMD_EDGE_ENHANCE_MORE = 532,
    CMD_FIND_EDGES = 533,
    CMD_FIND_HORIZONTAL_EDGES = 534,
    CMD_FIND_VERTICAL_EDGES = 535,
    CMD_TRACE_CONTOUR = 536,
    CMD_BLUR = 537,
    CMD_BLUR_MORE = 538,
    CMD_SOFTEN = 539,
    CMD_SOFTEN_MORE = 540,
    CMD_SHARPEN = 541,
    CMD_SHARPEN_MORE = 542,
    CMD_UNSHARPEN = 543,
    CMD_SET_OUTPUT_OPTIONS = 544,
    CMD_CIRCLE = 545,
    CMD_PENTAGON = 546,
    CMD_WIND = 547,
    CMD_MOTION_BLUR = 548,
    CMD_SKEW = 549,
    CMD_ADD_NOISE = 550,
    CMD_DESPECKLE = 551,
    CMD_DILATE = 552,
    CMD_EMBOSS = 553,
    CMD_ERODE = 554,
    CMD_MEDIAN = 555,
    CMD_MOSAIC = 556,
    CMD_CROP = 557,
    CMD_COLOR_REPLACEMENT = 558,
    CMD_OVERLAY_WATERMARK = 559,
    CMD_SET_INPUT_OPTIONS = 560,
    CMD_PRINT = 561,
};

inline constexpr int32_t FIRST_COMMAND_ID = 501;
inline constexpr int32_t LAST_COMMAND_ID = 561;
inline constexpr int COMMAND_COUNT = 61;
// The ID of a command object that has not been given a kind.
inline constexpr int32_t NO_COMMAND_ID = -1;

constexpr bool IsCommandID(int32_t id) { return id >= FIRST_COMMAND_ID && id <= LAST_COMMAND_ID; }

// The display name: the string-table entry numbered like the command
// ("Filter: Blur" for 537). Empty for an ID outside 501..561.
std::string CommandDisplayName(int32_t id);

// ---- Unset slots ----

// -650000, stored in files as F0 14 F6 FF.
inline constexpr int32_t PARAM_UNSET = -650000;
// -650000.0, stored in files as 00 B1 1E C9.
inline constexpr float PARAM_UNSET_FLOAT = -650000.0f;

constexpr int32_t ParamOr(int32_t value, int32_t fallback) {
    return value == PARAM_UNSET ? fallback : value;
}
constexpr float FloatParamOr(float value, float fallback) {
    return value == PARAM_UNSET_FLOAT ? fallback : value;
}
inline std::string TextParamOr(const std::string& value, const std::string& fallback) {
    return value.empty() ? fallback : value;
}

// ---- The slot table ----

enum class Slot : uint8_t { P0, P1, P2, P3, P4, P5, P6, P7, P8, P9, F0, F1, S0, S1, C0, C1 };

// What a kind is for.
enum class CommandKind : uint8_t {
    ImageOperation,  // transforms the image (the dispatcher runs it)
    Setting,         // "Set Input Options", "Set Output Options": read by the batch runner
    OutputAction,    // "Print": uses the image, leaves it unchanged
};

// The depth check the dispatcher makes before a command's operation runs.
enum class DepthRule : uint8_t {
    Any,              // no check
    TrueColourOrGrey, // 24 bits or 8-bit greyscale, else -5004
    TrueColourOrGreyB,// 24 bits or 8-bit greyscale, else -5031
    AtLeast8,         // 8 or 24 bits, else -5031
    Not1Bit,          // a 2-colour image is refused with -5020
    RaiseTo8,         // fewer bits: the operation runs on a copy raised to 8 bits
    RaiseTo24,        // fewer bits: the operation runs on a copy raised to 24 bits
    BySlots,          // decided by the command's slots (resize method, rotate angle)
};

// How an unset slot is filled when the parameter dialog opens.
enum class SlotDefault : uint8_t {
    Number,      // SlotInfo::defaultValue (colours: 0, black)
    Text,        // SlotInfo::defaultText
    HomeFolder,  // the user's home folder (the output folder of "Set Output Options")
    Unchanged,   // no default: the unset value reaches the dialog as it is
};

struct SlotInfo {
    Slot slot;
    const char* meaning;  // what the slot holds, in a few words
    const char* label;    // the dialog's label for it, or nullptr
    SlotDefault defaultKind;
    double defaultValue;      // integers, floats (Number)
    const char* defaultText;  // strings (Text)
    bool ranged;              // min/max hold the dialog's range
    double min, max;
    // The dialog forces an unset default into the range when it opens
    // (posterize 50 -> 7, solarize 255 -> 254).
    bool clampDefault;
    // Dialog state: stored and restored, never read by the operation.
    bool dialogStateOnly;
};

struct CommandInfo {
    int32_t id;
    CommandKind kind;
    DepthRule depthRule;
    std::span<const SlotInfo> slotTable;  // its slots; empty for the 24 parameterless kinds
    // Only one command of this kind may be in a script.
    bool onceOnly;
};

// The 61 kinds in ID order.
std::span<const CommandInfo> AllCommands();
// Null for an ID outside 501..561.
const CommandInfo* FindCommandInfo(int32_t id);
// Null when the kind does not use that slot.
const SlotInfo* FindSlotInfo(int32_t id, Slot slot);
// False for the parameterless kinds (no dialog; described as "None") and for
// IDs outside 501..561.
bool CommandHasParameters(int32_t id);

// The default an integer slot gets when unset (the dialog's proposal, after
// the clamp of clampDefault); fallback when the table names none.
int32_t IntSlotDefault(int32_t id, Slot slot, int32_t fallback = 0);
float FloatSlotDefault(int32_t id, Slot slot, float fallback = 0.0f);

// The fixed sizes of "Resize/Resample Image" modes 0..4 (320 x 200 ...
// 1024 x 768); false for any other mode.
bool ResizeFixedSize(int32_t mode, int32_t* width, int32_t* height);

// ---- Occurrence rules ----

// "Set Output Options" and "Set Input Options" may occur once per script.
bool IsOnceOnlyCommand(int32_t id);
// False when adding (or pasting) a command of this kind would break the
// once-only rule; the caller then shows IDS_ONLY_ONE_OCCURRENCE, adds nothing
// and selects script.FindCommand(id).
bool CanAddCommand(const CScript& script, int32_t id);

// A print script: "Print" alone, or exactly "Print" and "Set Input Options"
// (in either order).
bool IsPrintScript(const CScript& script);
// A script may run as a batch when it holds "Set Output Options" or is a
// print script; otherwise the runner refuses it with IDS_NO_OUTPUT_OPTIONS.
bool MeetsBatchRule(const CScript& script);

// ---- Messages of the script layer (string-table numbers) ----

inline constexpr int IDS_UNTITLED = 102;               // "UNTITLED"
inline constexpr int IDS_SCRIPT_FILTER_OPEN = 2016;    // file-dialog filter for scripts
inline constexpr int IDS_SCRIPT_FILTER_SAVE = 2017;
inline constexpr int IDS_NOT_A_SCRIPT = 7101;          // "This does not appear to be a valid script file"
inline constexpr int IDS_SCRIPT_TOO_NEW = 7102;        // "... written by a newer version of Kerv Brellix."
inline constexpr int IDS_SCRIPT_LOAD_FAILED = 7103;    // "The script could not be loaded because %s"
inline constexpr int IDS_SCRIPT_SAVE_FAILED = 7104;    // "The script file could not be saved because %s"
inline constexpr int IDS_CLIPBOARD_BUSY = 7105;        // "Clipboard in use; try again later."
inline constexpr int IDS_CLIPBOARD_NO_EMPTY = 7106;    // "Clipboard in use; unable to empty."
inline constexpr int IDS_CLIPBOARD_NO_SET = 7107;      // "Clipboard in use; unable to set contents."
inline constexpr int IDS_CLIPBOARD_NO_GET = 7108;      // "Clipboard in use; unable to get contents."
inline constexpr int IDS_ONLY_ONE_OCCURRENCE = 7109;   // "Only one occurrence of this command ..."
inline constexpr int IDS_NO_OUTPUT_OPTIONS = 7110;     // "The specified script does not include ..."
inline constexpr int IDS_SCRIPT_MODIFIED_LOSE = 7111;  // New/Open on a modified script
inline constexpr int IDS_SCRIPT_MODIFIED_SAVE = 7112;  // Close on a modified script
inline constexpr int IDS_BUSY_CLOSING = 7113;          // Close while work is in progress
inline constexpr int IDS_OPEN_SCRIPT_TITLE = 7114;     // "Open Script File"
inline constexpr int IDS_SAVE_SCRIPT_TITLE = 7115;     // "Save Script File As"
