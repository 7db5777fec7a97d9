// Shared test fakes live in headers; this keeps the library non-empty.
