// Placeholder until the web client arrives.
