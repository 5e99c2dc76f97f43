// The risk warning that the user accepts before either face opens.
#pragma once

// Returns when the user accepted; otherwise ends the process with exit code 1.
void RunStartupWarning();
