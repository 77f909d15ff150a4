// Placeholder: this side's primitives for files.
