/* The smallest C program, for the peak memory that the C library alone takes. */
int main(void) { return 0; }
