// Only here so that the precompiled GoogleTest header has a target of its own.
