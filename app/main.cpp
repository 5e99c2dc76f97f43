// dirshift.exe: relocate a folder and leave a junction, or find and remove junctions.
#include "app/entry.h"

int wmain(int argc, wchar_t** argv) { return RunDirshift(argc, argv); }
