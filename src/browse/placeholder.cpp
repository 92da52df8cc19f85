// placeholder so the folder's library has a source until its code lands
