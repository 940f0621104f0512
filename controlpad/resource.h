// Resource ids shared by the program and its resource script.
#pragma once

#define IDI_CONTROLPAD 101
