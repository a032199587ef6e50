// A plug-in bundle the bundle tests load by name.
extern "C" __attribute__((visibility("default"))) int svc_plugin_answer(int x)
{
    return x * 2 + 1;
}
