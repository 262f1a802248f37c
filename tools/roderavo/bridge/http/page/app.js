// The page of the web face.
