// The hint beside the COM port field: which device a COM number stands for and whether it is
// there, and a tooltip listing the serial devices present. The texts are pure functions of the
// resolution so they can be checked without devices; the callback reads the system.
#pragma once

#include <string>
#include <vector>

#include "platform/rs232.h"

struct ComPortHint {
    std::string text;     // one short line beside the field
    std::string tooltip;  // the serial devices present, with their COM numbers
};

// number is what the field shows; info is ResolveComPort(number); present is ListSerialPorts().
ComPortHint describe_com_port(int number, const ComPortInfo& info,
                              const std::vector<ComPortInfo>& present);

// Resolves the number in comport_field and shows the result in comport_hint.
void update_comport_hint();

// Callback of comport_field: the hint follows every change of the number.
int show_comport_device(int panel, int control, int event, void* callbackData, int eventData1,
                        int eventData2);
