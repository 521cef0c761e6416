#pragma once
// Identifiers of the built-in PIN dialog, shared by the resource script and the code.

#define IDD_PIN_DIALOG 2101
#define IDC_PIN_EDIT 2201
