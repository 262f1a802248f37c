/* The product's constants, one place for the driver, the host tool, the simulator
 * and hosts: what one line of multiplexers holds, and how the driver tries an
 * exchange. C and C++. */
#ifndef RODERAVO_PRODUCT_H
#define RODERAVO_PRODUCT_H

enum {
    RODERAVO_MULTIPLEXERS = 5,                /* on one line, numbered 0..4 */
    RODERAVO_CAMERAS_PER_MULTIPLEXER = 20,    /* multiplexer m has cameras 20*m+1 .. 20*m+20 */
    RODERAVO_CAMERAS = 100,                   /* numbered 1..100 */
    RODERAVO_ATTEMPTS = 5,                    /* of one exchange before it fails */
    RODERAVO_RETRY_PAUSE_MS = 50              /* after a failed attempt */
};

#endif /* RODERAVO_PRODUCT_H */
