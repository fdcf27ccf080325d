// Nothing beyond what the shim's windows.h declares.
