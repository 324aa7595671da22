// placeholder: written in this change
