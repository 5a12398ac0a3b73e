// Identifiers of the password dialog, shared by the resource script and the code.
#pragma once

#define IDD_PASSWORD 101
#define IDC_PASSWORD 1001
