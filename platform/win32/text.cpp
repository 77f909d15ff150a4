// Placeholder: this side's primitives for text.
