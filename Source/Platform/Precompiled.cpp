// Placeholder for a layer that has no sources of its own yet.
