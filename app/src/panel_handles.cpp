// The program-wide panel handles. They live in a library of their own so that the logging code
// and the tests can link them without the rest of the program.
#include "app/panel_ids.h"

int main_panel = 0;
int address_panel = 0;
int splash_panel = 0;
