/* A weston module for the Wayland window tests: weston's headless back end has no input
 * devices and so no seat, and without a seat a GTK client gets no keyboard focus, no
 * clipboard and no pop-up grab. This gives the compositor one seat with a keyboard and a
 * pointer, as a desktop has; no input is ever sent through it. Loaded by
 * Tests/support/with-weston.sh with weston's --modules. */
#include <stdlib.h>

#include <libweston/libweston.h>

/* Exported by libweston for its back ends; their header is not installed. */
void weston_seat_init(struct weston_seat *seat, struct weston_compositor *compositor, const char *name);
void weston_seat_init_pointer(struct weston_seat *seat);
int weston_seat_init_keyboard(struct weston_seat *seat, struct xkb_keymap *keymap);

WL_EXPORT int wet_module_init(struct weston_compositor *compositor, int *argc, char *argv[]);

WL_EXPORT int wet_module_init(struct weston_compositor *compositor, int *argc, char *argv[])
{
	(void)argc;
	(void)argv;
	/* Lives as long as the compositor. */
	struct weston_seat *seat = calloc(1, sizeof *seat);
	if (!seat)
		return -1;
	weston_seat_init(seat, compositor, "kx-test");
	weston_seat_init_pointer(seat);
	return weston_seat_init_keyboard(seat, NULL) < 0 ? -1 : 0;
}
