// The artwork resources are compiled into this library.
