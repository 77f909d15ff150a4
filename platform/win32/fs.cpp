// Placeholder: this side's primitives for fs.
