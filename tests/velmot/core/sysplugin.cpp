// A plug-in bundle the bundle tests load by name.
extern "C" __attribute__((visibility("default"))) int SYSPLUGIN_Intro(int version)
{
    return version == 1724 ? 3 : 0;
}

extern "C" __attribute__((visibility("default"))) int sysplugin_twice(int x)
{
    return 2 * x;
}
