#include "app/startup_warning.h"

void RunStartupWarning() {
    // The warning box arrives with the message box component; until then every start
    // goes straight to the chosen face.
}
