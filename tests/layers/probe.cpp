// One include, chosen by the build: a header of another layer. It must be the
// tree's copy, which defines its marker as 1; a header of the same name found
// elsewhere (an installed roderavo/kor.h) does not.
#include PROBE_HEADER

#if PROBE_MARKER != 1
#error "the header found is not the tree's copy"
#endif

int LayerProbe() {
    return 0;
}
