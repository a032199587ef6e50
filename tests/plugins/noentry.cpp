// A bundle without the entry points of a plug-in.
extern "C" __attribute__((visibility("default"))) int something_else(void)
{
    return 1;
}
