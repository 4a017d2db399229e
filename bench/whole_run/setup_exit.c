/* The setup program of the benchmark's Windows installer: it ends at once, so
   that a run times the installer and not what it starts. */
int main(void) { return 0; }
