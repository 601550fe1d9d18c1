// Hostile-server cases: memory.
