// One include, chosen by the build: a header of another layer.
#include PROBE_HEADER

int LayerProbe() {
    return 0;
}
