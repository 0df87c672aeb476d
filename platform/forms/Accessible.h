#pragma once

namespace vesk {

// How a screen reader sees the forms: a top-level form is a frame, so the reader
// announces it as a window when it comes to the front, and a command button,
// which registers its access key itself, still announces that key.
void installAccessibleForms();

} // namespace vesk
