/* A stand-in for the installed product's program: it only has to exist and
   carry a version resource. */
int main(void) { return 0; }
