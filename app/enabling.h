// Which commands of the main window are available, from its busy marks.
//
// The window is busy while a batch runs, while a preview command runs
// (Exec Cmd, and loading the preview image) and while a script test runs.
// The editing and run controls (both lists, Add, Delete, Move Up, Move Down,
// Edit, Exec Cmd, Test Script, Start, New Image, Revert) are off during all
// three: the window stays responsive while the work goes on in the
// background, and the script and the preview image must not change under it.
#pragma once

struct BusyMarks {
    bool batch = false;
    bool previewCommand = false;
    bool scriptTest = false;

    bool previewRun() const { return previewCommand || scriptTest; }
    bool any() const { return batch || previewCommand || scriptTest; }
};

struct Availability {
    bool newOpen = false; // New, Open, the recent scripts
    bool save = false;    // Save, Save As
    bool cutCopy = false;
    bool paste = false;
    bool preferences = false;
    bool exit = false;
    bool imageList = false;
    bool about = false;    // About, Help Topics
    bool controls = false; // the editing and run controls above
    bool stop = false;     // the Stop button and Esc
};

// lineSelected: a script line is selected; clipboardHasCommand: the
// clipboard holds the program's command record.
Availability ComputeAvailability(const BusyMarks& busy, bool lineSelected,
                                 bool clipboardHasCommand);
