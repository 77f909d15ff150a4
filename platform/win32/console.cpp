// Placeholder: this side's primitives for console.
