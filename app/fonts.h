#pragma once

// The forms name Windows families ("MS Shell Dlg 2", "Times New Roman",
// "Courier New") and place their widgets at fixed pixels. Where a family is
// missing, this maps it to a free family of the same or narrower widths, so
// that the captions keep fitting their widgets. Called once at start-up,
// before the first window is built.
void substituteFormFonts();
