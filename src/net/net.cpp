// The network layer: event-driven TCP sockets and the UDP listener.
