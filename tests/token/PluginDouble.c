/* A module that stands for the plug-in's own file in the module-path tests: it is copied
 * under the plug-in's name (or another) into a folder and loaded from there. It exports no
 * PKCS#11 function, so it also serves as a vendor module without C_GetFunctionList. */
int orv_plugin_double(void) { return 1; }
