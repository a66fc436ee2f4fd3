// A script and its commands.
//
// CScript owns an ordered list of CScriptCommand objects, reached by
// zero-based position. Mutating operations ignore an index outside
// 0..count-1; lookups answer null for it. Removing a command deletes it, and
// destroying the script deletes every command.
//
// Messages (a refused file, a file error) are never shown here: they come back
// in the optional `message` out-parameters, already formatted, for the caller
// to show or log.
//
// Layering: the model, files and descriptions are in brellix_script;
// DoCommand is implemented in exec/dispatch.cpp and comes with brellix_exec,
// so this library does not depend on the image operations. Call DoCommand
// only from code that links brellix_exec.
#pragma once

#include "core/dib.h"
#include "core/errors.h"
#include "core/kmem.h"
#include "script/commands.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

class CScriptCommand {
  public:
    // All integer and float slots PARAM_UNSET, strings empty, colours black.
    explicit CScriptCommand(int32_t id = NO_COMMAND_ID);

    int32_t m_nID;                         // 501..561, or -1 for no kind yet
    std::array<int32_t, 10> m_nParam;      // P0..P9
    std::array<float, 2> m_fParam;         // F0, F1
    std::array<std::string, 2> m_strParam; // S0, S1 (8-bit text; S1 is carried, never read)
    std::array<COLORREF, 2> m_crColor;     // C0, C1
};

class CScript {
  public:
    CScript() = default;
    ~CScript();
    CScript(const CScript&) = delete;
    CScript& operator=(const CScript&) = delete;

    int GetCount() const { return static_cast<int>(m_commands.size()); }
    CScriptCommand* GetCommand(int index) const;
    // Stores the pointer at that position WITHOUT deleting the one it
    // replaces; used in pairs to exchange two commands. The script owns the
    // stored pointer afterwards.
    void SetCommand(int index, CScriptCommand* command);
    // When the script is not empty and 0 <= index <= count, inserts directly
    // after position index (index = count appends); otherwise appends.
    // Returns the inserted command (owned by the script).
    CScriptCommand* InsertCommand(std::unique_ptr<CScriptCommand> command, int index);
    void RemoveCommand(int index);
    void RemoveAll();
    // The first command, from the start, with that ID; null if none.
    CScriptCommand* FindCommand(int32_t id) const;
    // Position of that object, or -1.
    int IndexOf(const CScriptCommand* command) const;

    // ---- Script files (.ksc) ----

    // Appends the file's commands (callers empty the script first). True on
    // success. *olderVersion is set to true for a file of an older minor
    // version (and never cleared). On failure *message holds the text to
    // show: IDS_NOT_A_SCRIPT for a file that is not a script or is damaged
    // (the script is left unchanged), IDS_SCRIPT_TOO_NEW, or
    // IDS_SCRIPT_LOAD_FAILED with the system's reason for a file error
    // (commands read before the error stay in the script).
    bool Load(const std::string& path, bool* olderVersion = nullptr,
              std::string* message = nullptr);
    // Creates or truncates the file and writes the whole script. On failure
    // *message holds IDS_SCRIPT_SAVE_FAILED with the system's reason; the
    // file may be partly written.
    bool Save(const std::string& path, std::string* message = nullptr) const;

    // ---- Descriptions ----

    // The parameters of the command at index in words, lines separated by
    // "\n". Unchanged text for an index outside the script. A resize command
    // gets its normalised slots written back (an unset P4 becomes 0; modes
    // 0..4 store their fixed size in P2 and P3), hence not const.
    void GetCommandDescription(int index, std::string& text);

    // ---- Execution (brellix_exec) ----

    // Runs the command at index on image. image is never changed or freed.
    // *result is set to null (after the argument checks) and receives the new
    // image on success; it stays null for commands that produce none (the
    // settings, "Print"). watermark: the 24-bit watermark for "Overlay
    // Watermark" (ignored otherwise). fileName: passed to "Print" only.
    // optimumPalette/optimumCount: the palette gathered for "Apply Fully
    // Optimized Palette". Returns 0, the operation's own code, or -5000
    // (bad index, null image or result), -5001 (unknown ID, or an operation
    // not available yet), -5002 (image cannot be locked), -5004, -5020,
    // -5031 (depth rules) and the command-specific codes.
    KervErrorCode DoCommand(int index, KHANDLE image, KHANDLE* result, KHANDLE watermark,
                            std::string fileName, StatusControlBlock* status,
                            const RGBQUAD* optimumPalette, int optimumCount);

  private:
    std::vector<CScriptCommand*> m_commands;
};

// ---- Script file layout ----

inline constexpr char SCRIPT_SIGNATURE[18] = "KERV Batch Script";  // 17 characters and a zero
inline constexpr int8_t SCRIPT_MAJOR_VERSION = 1;
inline constexpr int8_t SCRIPT_MINOR_VERSION = 2;
inline constexpr size_t SCRIPT_HEADER_BYTES = 24;
// A command record with both strings empty.
inline constexpr size_t SCRIPT_RECORD_MIN_BYTES = 68;

// ---- Clipboard record ("KBM Script Command") ----

inline constexpr char CLIPBOARD_FORMAT_NAME[] = "KBM Script Command";

// The record: ID, P0..P9, F0 F1, C0 C1, then S0 and S1 each with a zero
// terminator (62 + L0 + L1 bytes).
std::vector<uint8_t> EncodeClipboardRecord(const CScriptCommand& command);
// The block handed to the clipboard: movable and shareable, 66 + L0 + L1
// bytes (four spare zero bytes after the record). Null when memory is short.
KHANDLE MakeClipboardBlock(const CScriptCommand& command);
// Fills a new command from a record; false (command untouched) when the
// bytes are too short or a string's terminator is missing.
bool DecodeClipboardRecord(std::span<const uint8_t> bytes, CScriptCommand& command);

// ---- The built-in demonstration script ----

// The embedded script file (20 commands), first 18 bytes zero.
std::span<const uint8_t> DemoScriptData();
// Loads the demonstration script into script the way a user file is loaded
// (through a temporary file). 0, 102 (no memory), 200 (no temporary file) or
// 202 (the load failed; *message holds the load's text).
KervErrorCode LoadDemoScript(CScript& script, std::string* message = nullptr);
