// Filled in with the command family.
