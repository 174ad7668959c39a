// The precompiled headers of the test binaries are built with this file.
