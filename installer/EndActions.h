// What finishes an installation after a complete extraction: back to the
// source directory, the release's registry file to the registry editor, a
// folder window on the destination, and the Start-menu shortcut.
#pragma once

void RunEndActions();
