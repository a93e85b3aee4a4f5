// Where this process may load DLLs from.
#pragma once

// Restricts the DLL search of everything loaded from now on (the shell's on-demand DLLs included) to
// the system directory, so that a DLL planted beside the launcher (a download folder, removable media)
// is never loaded. Where Windows lacks SetDefaultDllDirectories (Windows 7 without KB2533623), removes at
// least the current directory from the search. Reports nothing: a failure leaves the default search.
void RestrictDllSearchToSystemDirectory();
