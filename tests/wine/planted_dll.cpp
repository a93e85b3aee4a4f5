// A stand-in for a DLL that someone planted beside the program: it bears a system DLL's name, and an
// export no system DLL has, by which the test tells which copy was loaded.
extern "C" __declspec(dllexport) int PlantedCopy() { return 1; }
