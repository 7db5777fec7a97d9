// The companion library binding and the local server start and stop.
