// "install.ini": ten positional lines, the value of each from its 16th
// character on, distributed into the main window's controls.
#pragma once

class TForm1;

// Reads "install.ini" from the current directory into `form`, line by line:
// a failure part-way leaves the earlier controls filled. Raises the file
// system's error, or the banner's for an empty banner text.
void ReadInstallDescription(TForm1& form);
