#include "app/enabling.h"

Availability ComputeAvailability(const BusyMarks& busy, bool lineSelected,
                                 bool clipboardHasCommand) {
    const bool idle = !busy.any();
    Availability a;
    a.newOpen = idle;
    a.save = true;
    a.cutCopy = lineSelected && idle;
    a.paste = clipboardHasCommand && idle;
    a.preferences = !busy.batch && !busy.scriptTest;
    a.exit = idle;
    a.imageList = !busy.scriptTest;
    a.about = true;
    a.controls = idle;
    a.stop = busy.previewRun();
    return a;
}
