# The simulated switch boots, reads an empty standard input in batch mode, prints nothing and exits 0.
--- input
--- output
