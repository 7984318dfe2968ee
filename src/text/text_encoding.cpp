// Placeholder of the skeleton; replaced by the implementation.
