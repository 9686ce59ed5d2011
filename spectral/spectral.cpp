// Spectral console printers: being written.
