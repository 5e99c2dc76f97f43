#include "relocate/relocate_folder.h"

void RelocateFolder(HWND /*dialog*/) {
    // The relocation arrives with the junction library and the message box.
}
